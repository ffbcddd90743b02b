# -*- coding: utf-8 -*-
# The plain tables that the fleet playbooks print.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


def aligned(lines):
    """LINES (lists of cells, the first the header) as text lines, each column as wide as
    its widest cell, two blanks between columns, no blanks at the end."""
    widths = [max(len(line[i]) for line in lines if i < len(line)) for i in range(len(lines[0]))]
    return ["  ".join(cell.ljust(w) for cell, w in zip(line, widths)).rstrip() for line in lines]
