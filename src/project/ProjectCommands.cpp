// New, Open, Close and Configure.
#include "project/ProjectCommands.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace varnel {
namespace {

// The extension after the last '.' of the file name, upper case.
std::string UpperExtension(const std::filesystem::path& file) {
  const std::string name = file.filename().string();
  const std::size_t dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return extension;
}

}  // namespace

ProjectCommands::ProjectCommands(Session& session, Settings& settings)
    : session_(session), settings_(settings) {}

std::optional<PropertyValues> ProjectCommands::RunDialog(const std::string& projectPath,
                                                         const PropertyValues& shown,
                                                         PropertiesRequest::Mode mode) {
  PropertiesRequest request;
  request.mode = mode;
  request.projectPath = projectPath;
  request.workDir = session_.WorkDir;
  request.ports = settings_.RebuildPortList();  // what is plugged in now
  request.coreClockHz = session_.CoreClockHz;
  request.values = shown;
  return session_.Ui().EditProperties(request);
}

Outcome ProjectCommands::Configure1Click() {
  const auto values = RunDialog(session_.ProjectFile, ReadPropertyValues(settings_.OpenStore()),
                                PropertiesRequest::Mode::Configure);
  return settings_.FinishConfigure(values ? &*values : nullptr);
}

Outcome ProjectCommands::SpeedNewClick() {
  const std::string path = session_.Ui().ChooseFile(FileChoice::NewProject, session_.WorkDir);
  if (path.empty()) return {};
  // From here on the chosen file is the open project, whatever the dialog.
  session_.ProjectFile = path;
  // A new project starts from the per-user store, not from the file.
  const auto values = RunDialog(path, ReadNewProjectValues(settings_.OpenUserStore()),
                                PropertiesRequest::Mode::NewProject);
  // A failed write is reported and the settings are then left as they were.
  return settings_.FinishNewProject(values ? &*values : nullptr);
}

Outcome ProjectCommands::SpeedOpenClick() {
  const std::string path = session_.Ui().ChooseFile(FileChoice::OpenFile, session_.WorkDir);
  if (path.empty()) return {};
  std::error_code ec;
  std::filesystem::path file = std::filesystem::absolute(path, ec);
  if (ec) file = path;
  // A working folder that cannot be recorded is reported; the file opens all the same.
  Outcome recorded = settings_.WriteWorkDir(file.parent_path().string() + '/');

  const std::string extension = UpperExtension(file);
  if (extension == "PRJ") {
    session_.ProjectFile = file.string();
    session_.Ui().SetProjectCloseEnabled(true);
    settings_.LoadProperties();
  } else if (extension == "HEX" || extension == "BIN") {
    // A raw image is chosen as an Intel HEX file is: programming converts it.
    session_.ChooseProgramFile(file.string());
    session_.Ui().SetStatusPanel(Session::kStatusProgram, "Prog.: " + session_.ProgramFile);
  }
  return recorded;
}

void ProjectCommands::Close1Click() {
  session_.ProjectFile.clear();
  session_.Ui().SetProjectCloseEnabled(false);
  settings_.LoadProperties();
}

}  // namespace varnel
