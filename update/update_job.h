// Programs the firmware file named in the window into the board. Whatever
// happens it ends with "Wait..." and UM_UPDATE (wparam 1) sent to the window.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "job/outcome.h"
#include "update/firmware.h"

class JobWindow;

JobOutcome UpdateJob(JobWindow& window);
// The same, showing `checked` the file's bytes once they pass the check,
// before the board is opened: the bytes the board is given.
JobOutcome UpdateJob(JobWindow& window, const std::function<void(const FirmwareImage&)>& checked);

// The file the window names, read whole and every record checked, as the
// update does before it opens the board; held open while this lives. Lets a
// run program many boards from one check.
class CheckedFirmware {
public:
    CheckedFirmware() = default;
    ~CheckedFirmware();
    CheckedFirmware(const CheckedFirmware&) = delete;
    CheckedFirmware& operator=(const CheckedFirmware&) = delete;

    // False after showing the update's own words for what is wrong with it.
    bool Load(JobWindow& window);
    const FirmwareImage& Image() const { return image_; }

private:
    FirmwareFile file_ = kNoFile;
    FirmwareImage image_;
};

// UpdateJob with the file already checked: opens the board and programs it.
JobOutcome UpdateJob(JobWindow& window, const CheckedFirmware& firmware);

// The characters of a UTF-8 file name, as the job's limit on names counts
// them. Never fewer than a quarter of its bytes, so a name within the limit
// fits the job's buffer even when it is not UTF-8.
size_t Utf8Characters(const std::string& text);
