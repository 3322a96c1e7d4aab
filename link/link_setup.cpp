#include "link/link_setup.h"

LinkSetup::LinkSetup(const LinkSettings& settings)
    : previousBackend_(CurrentHidBackend()),
      previousDeadlineMs_(ExchangeDeadlineMs()),
      previousSleep_(CurrentBoardSleep()),
      previousObserver_(CurrentReportObserver())
{
    SetExchangeDeadlineMs(settings.deadlineMs);
    SetBoardSleep(settings.sleep);
    SetReportObserver(settings.observer);
    // Last: the worker may use the backend as soon as it is there.
    SetHidBackend(settings.backend);
}

LinkSetup::~LinkSetup()
{
    SetHidBackend(previousBackend_);
    SetReportObserver(previousObserver_);
    SetBoardSleep(previousSleep_);
    SetExchangeDeadlineMs(previousDeadlineMs_);
}
