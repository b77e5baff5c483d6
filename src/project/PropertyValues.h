// The values the target properties dialog shows and edits, one per key of
// the settings store, as the texts and check states of its controls: the
// form in which they are read from the store to fill the dialog and written
// back when it is confirmed.
#pragma once

#include <string>

#include "core/PropertyValues.h"
#include "core/Outcome.h"
#include "project/SettingsStore.h"

namespace varnel {


// Which keys a save writes: a confirmed properties dialog writes every key
// but "WorkDir"; a new project leaves out "Baud", "IRAMMin" and "IRAMMax".
enum class SaveLayout { Properties, NewProject };

// The dialog's values from the store, with the key table's defaults ("Port"
// defaults to "COM1" here whatever the back-end).
PropertyValues ReadPropertyValues(const SettingsStore& store);
// The values a new project's dialog starts from, read from the per-user
// store: "Port" defaults to "None" and "ControlDTR" to true; "Baud" is not
// read (the speed box stays empty), nor are "IRAMMin" and "IRAMMax".
PropertyValues ReadNewProjectValues(const SettingsStore& userStore);

// "Version" as written: the program version up to and including its first
// blank, so "1.1" gives the empty text.
std::string VersionKeyText(std::string_view programVersion);

// Writes the values in key-table order. The first key that cannot be
// written ends the save: keys written before it stay written, later ones
// are not written, and the outcome (BadFile) carries the store's message,
// which the window shows in an error box.
Outcome SaveProperties(SettingsStore& store, const PropertyValues& values, SaveLayout layout,
                       std::string_view programVersion);

}  // namespace varnel
