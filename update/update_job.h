// Programs the firmware file named in the window into the board. Whatever
// happens it ends with "Wait..." and UM_UPDATE (wparam 1) sent to the window.
#pragma once

class JobWindow;

void UpdateJob(JobWindow& window);
