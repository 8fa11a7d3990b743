#pragma once
// Helpers for the discovery tests: they send UDP multicast, so they run only
// inside the private network namespace of scripts/netns-run (loopback plus
// the veth pair v0 10.77.0.1 / v1 10.77.0.2).
#include "tests/WaitUntil.h"

#include <QNetworkInterface>

#include <gtest/gtest.h>

inline bool insidePrivateNetwork()
{
    return qgetenv("RAVEL_NETNS_INSIDE") == "1" && QNetworkInterface::interfaceFromName("v0").isValid()
           && QNetworkInterface::interfaceFromName("v1").isValid();
}

#define REQUIRE_PRIVATE_NETWORK()                                                                                      \
    if (!insidePrivateNetwork())                                                                                       \
    GTEST_SKIP() << "sends multicast: run inside scripts/netns-run"
