#include "link/link_setup.h"

LinkSetup::LinkSetup(const LinkSettings& settings)
    : previousBackend_(CurrentHidBackend()),
      previousDeadlineMs_(ExchangeDeadlineMs()),
      previousSleep_(CurrentBoardSleep())
{
    SetExchangeDeadlineMs(settings.deadlineMs);
    SetBoardSleep(settings.sleep);
    // Last: the worker may use the backend as soon as it is there.
    SetHidBackend(settings.backend);
}

LinkSetup::~LinkSetup()
{
    SetHidBackend(previousBackend_);
    SetBoardSleep(previousSleep_);
    SetExchangeDeadlineMs(previousDeadlineMs_);
}
