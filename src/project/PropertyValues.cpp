// Reading and saving the properties dialog's values.
#include "project/PropertyValues.h"

namespace varnel {
namespace {

// Each key the dialog shows, bound to its value, in key-table order.
// "Version" has no value of its own: it is written from the program version.
struct Field {
  const char* key;
  std::string PropertyValues::*text;
  bool PropertyValues::*flag;
};

constexpr Field kFields[] = {
    {"Port", &PropertyValues::Port, nullptr},
    {"Baud", &PropertyValues::Baud, nullptr},
    {"Version", nullptr, nullptr},
    {"ResetSequence", &PropertyValues::ResetSequence, nullptr},
    {"HCR0", &PropertyValues::HCR0, nullptr},
    {"HCR1", &PropertyValues::HCR1, nullptr},
    {"RealClk", &PropertyValues::RealClk, nullptr},
    {"ManualClk", nullptr, &PropertyValues::ManualClk},
    {"ControlDTR", nullptr, &PropertyValues::ControlDTR},
    {"HexBin", &PropertyValues::HexBin, nullptr},
    {"Lst", &PropertyValues::Lst, nullptr},
    {"CodeMin", &PropertyValues::CodeMin, nullptr},
    {"CodeMax", &PropertyValues::CodeMax, nullptr},
    {"SFRMin", &PropertyValues::SFRMin, nullptr},
    {"SFRMax", &PropertyValues::SFRMax, nullptr},
    {"IRAMMin", &PropertyValues::IRAMMin, nullptr},
    {"IRAMMax", &PropertyValues::IRAMMax, nullptr},
    {"ExtMin", &PropertyValues::ExtMin, nullptr},
    {"ExtMax", &PropertyValues::ExtMax, nullptr},
    {"ProgMin", &PropertyValues::ProgMin, nullptr},
    {"ProgMax", &PropertyValues::ProgMax, nullptr},
    {"Default", nullptr, &PropertyValues::Default},
    {"UploadCode", nullptr, &PropertyValues::UploadCode},
    {"UploadExtRAM", nullptr, &PropertyValues::UploadExtRAM},
    {"UploadSFR", nullptr, &PropertyValues::UploadSFR},
    {"MassErase", nullptr, &PropertyValues::MassErase},
    {"ErasePS1", nullptr, &PropertyValues::ErasePS1},
    {"ProgFlash", nullptr, &PropertyValues::ProgFlash},
    {"ProgPS1", nullptr, &PropertyValues::ProgPS1},
    {"Verify", nullptr, &PropertyValues::Verify},
};

bool NotInNewProject(std::string_view key) {
  return key == "Baud" || key == "IRAMMin" || key == "IRAMMax";
}

// Keys a store holds only once they were given a value: the usual reset
// pulse leaves a project's keys as they always were.
bool OnlyWhenSet(std::string_view key) { return key == "ResetSequence"; }

// Fills every field from the store, each field's value in defaults being
// what a missing key gives.
PropertyValues ReadFields(const SettingsStore& store, const PropertyValues& defaults,
                          bool newProject) {
  PropertyValues values = defaults;
  for (const Field& field : kFields) {
    if (newProject && NotInNewProject(field.key)) continue;
    const char* sectionName = KeyOf(field.key).section;
    if (field.text) {
      values.*field.text = store.ReadText(sectionName, field.key, defaults.*field.text);
    } else if (field.flag) {
      values.*field.flag = store.ReadBool(sectionName, field.key, defaults.*field.flag);
    }
  }
  return values;
}

}  // namespace

PropertyValues ReadPropertyValues(const SettingsStore& store) {
  return ReadFields(store, PropertyValues{}, false);
}

PropertyValues ReadNewProjectValues(const SettingsStore& userStore) {
  PropertyValues defaults;
  defaults.Port = "None";
  defaults.Baud.clear();
  defaults.ControlDTR = true;
  return ReadFields(userStore, defaults, true);
}

std::string VersionKeyText(std::string_view programVersion) {
  const auto blank = programVersion.find(' ');
  if (blank == std::string_view::npos) return {};
  return std::string(programVersion.substr(0, blank + 1));
}

Outcome SaveProperties(SettingsStore& store, const PropertyValues& values, SaveLayout layout,
                       std::string_view programVersion) {
  for (const Field& field : kFields) {
    if (layout == SaveLayout::NewProject && NotInNewProject(field.key)) continue;
    const char* sectionName = KeyOf(field.key).section;
    if (OnlyWhenSet(field.key) && (values.*field.text).empty() &&
        !store.Holds(sectionName, field.key)) {
      continue;
    }
    std::string message;
    bool ok = false;
    if (field.text) {
      ok = store.WriteText(sectionName, field.key, values.*field.text, &message);
    } else if (field.flag) {
      ok = store.WriteBool(sectionName, field.key, values.*field.flag, &message);
    } else {
      ok = store.WriteText(sectionName, field.key, VersionKeyText(programVersion), &message);
    }
    if (!ok) return {OutcomeKind::BadFile, message};
  }
  return {};
}

}  // namespace varnel
