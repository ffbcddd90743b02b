// What the tools leave in the system journal: one structured entry per action.
#pragma once

#include <initializer_list>
#include <span>
#include <string_view>

#include "journal_entry.h"

// The kinds of entry; each has a MESSAGE_ID of its own, explained in hostmend.catalog.
enum class JournalKind {
  ServiceAction,
  NameRefused,
  RegistryFailed,
  NoDatabase,
  DiskReport,
  LocationCleaned,
  MatchLeft,
  CleanupFinished,
  ToolFailed,
};

// Journal priorities (syslog levels).
inline constexpr int kPriorityError = 3;
inline constexpr int kPriorityWarning = 4;
inline constexpr int kPriorityInfo = 6;
inline constexpr int kPriorityDebug = 7;

// Names the tool for every entry of this run, makes the run id and notes the caller;
// called once, first.
void startJournal(const char* tool);

// Sends one entry: MESSAGE, MESSAGE_ID, PRIORITY, the tool, its version, the run id, the
// caller, then `fields`. The entry is sent without waiting, and dropped where there is no
// journal or it cannot take the entry at once: a stuck journal must never hold up a
// repair, and nothing here ever fails or says anything.
void sendJournalEntry(JournalKind kind, int priority, std::string_view message,
                      std::span<const JournalField> fields) noexcept;

inline void sendJournalEntry(JournalKind kind, int priority, std::string_view message,
                             std::initializer_list<JournalField> fields = {}) noexcept {
  sendJournalEntry(kind, priority, message, std::span(fields.begin(), fields.size()));
}
