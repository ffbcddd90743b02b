// Freeing disk space: the panel's caches, its temporary files and the package caches.
#pragma once

// Removes every match of the fixed cleanup list and prints, once at the end, "null" or
// {"clean_paths":[...]} with the matches removed, in order. A match still there afterwards
// is one line on standard error with the system's reason for the first failure inside it,
// and is left out of the report.
void cleanDiskSpace();
