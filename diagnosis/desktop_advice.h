// Whether a run has an interactive desktop, and which Desktop folder of
// the account's profile Excel lacks where it has none: the decisions, apart
// from the system behind DesktopSystem.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// Where the run is: its session and its window station.
struct SessionFacts {
  bool sessionKnown = false;
  uint32_t sessionId = 0;
  bool stationKnown = false;
  bool stationVisible = true;  ///< the window station shows on a display
};

/// The system folders, as users name them and as this process reaches
/// them: a 32-bit process on 64-bit Windows reaches the native system
/// folder only through its "Sysnative" alias.
struct SystemFolders {
  std::wstring system;        ///< the system folder, as users name it
  std::wstring systemAccess;  ///< the native system folder, as reached here
  std::wstring wow64;         ///< the 32-bit system folder; empty without
};

/// What the decisions ask of the system; tests give their own answers.
class DesktopSystem {
 public:
  virtual ~DesktopSystem() = default;
  virtual SessionFacts Session() = 0;
  /// The profile folder of the account the run runs as; empty if unknown.
  virtual std::wstring ProfileFolder() = 0;
  virtual SystemFolders Folders() = 0;
  /// True only when the system says the folder does not exist (not when it
  /// could not be looked at).
  virtual bool FolderMissing(const std::wstring& path) = 0;
};

/// Session 0 (where services and tasks that run whether the user is logged
/// on or not run) or a window station that is not visible. A fact that
/// could not be read counts as interactive.
bool LacksInteractiveDesktop(const SessionFacts& facts);

/// A Desktop folder that Excel needs on a run without an interactive
/// desktop: as the advice names it, and whether it is missing.
struct DesktopFolderState {
  std::wstring shown;
  bool missing = false;
};

/// The Desktop folders of the account's profile that the advice looks at,
/// each with whether it is missing; empty when the run has an interactive
/// desktop or its profile is unknown. For the system profile both the
/// native and the 32-bit system folder's config\systemprofile\Desktop.
std::vector<DesktopFolderState> DesktopFolderStates(DesktopSystem& system);

/// The line (without its line end) that names the Desktop folders of the
/// account's profile to create and says why; empty when the run has an
/// interactive desktop or no folder is missing. For the system profile both
/// the native and the 32-bit system folder's config\systemprofile\Desktop
/// are looked at: Excel of either kind may run.
std::wstring DesktopAdvice(DesktopSystem& system);
