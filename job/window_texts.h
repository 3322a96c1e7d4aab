// The main window's own texts, the same in the Windows program and the page:
// the hint line under the status line, and the Program button.
#pragma once

constexpr const char kHintNoBoard[] = "Attach board to USB and power on";
constexpr const char kHintChooseFile[] = "Select a firmware file to upload";
constexpr const char kHintNoSuchFile[] = "Selected filename does not exist";
constexpr const char kHintReady[] = "Ready";
constexpr const char kHintCheckBoard[] = "Check board and reconnect";
constexpr const char kHintUpdating[] = "Updating, do not disconnect!";
constexpr const char kHintAborting[] = "Aborting, please wait...";

constexpr const char kProgramText[] = "Program";
// While the update runs.
constexpr const char kProgramBusyText[] = "Updating...";

// Service mode: the password check, the shot counter's confirmation and
// leaving service mode.
constexpr const char kPasswordCheckingText[] = "Checking...";
constexpr const char kPasswordIncorrectText[] = "Password incorrect";
constexpr const char kAccessDeniedCaption[] = "Access Denied";
constexpr const char kShotCounterSetText[] = "New shot counter set";
constexpr const char kShotCounterCaption[] = "Shot Counter";
constexpr const char kDisableServiceText[] = "Are you sure you want to disable Service Mode?";
constexpr const char kDisableServiceCaption[] = "Disable Service Mode";
