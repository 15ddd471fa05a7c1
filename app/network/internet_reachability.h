#pragma once

#include <QUrl>

#include <qcoro/qcorotask.h>

#include <functional>

namespace orlune::InternetReachability {

// True when a physical interface (wired, Wi-Fi or mobile; never a tunnel) is up, running and
// has an address. Cheap and synchronous; any thread.
bool isPhysicalNetworkInterfaceUp();

// True when a physical interface is up and at least one of four independent HTTPS probes
// answers with a status from 200 to 399. Waits for every probe (each bounded by its own
// time-out). Never throws; no request is made without a physical link.
QCoro::Task<bool> isInternetReachable();

// The same with the link test supplied, for callers that already know or fake it.
QCoro::Task<bool> isInternetReachable(std::function<bool()> physicalLinkUp);

// The same probes, answering true as soon as the first one answers (false once all have
// failed): for a check that cannot wait for the slowest, such as the tunnel's after a wake.
QCoro::Task<bool> anyProbeAnswers();

}  // namespace orlune::InternetReachability
