// What a test does when a real peer it needs (sshd, Dropbear, paramiko,
// ssh-agent, sudo, tmux, Chromium, a test user) is missing: a developer
// without the peers sees the test skipped; where FERRODEX_REQUIRE_PEERS is
// set (scripts/test.sh sets it), the test fails instead, so a run that was
// meant to exercise the peers cannot pass without them.
#pragma once

#include <gtest/gtest.h>

namespace peer {

// True when FERRODEX_REQUIRE_PEERS holds a value other than "" and "0".
bool PeersRequired();

// The outcome a missing peer gives the running test.
::testing::TestPartResult::Type MissingPeerOutcome();

}  // namespace peer

// Ends the running test (or its fixture's SetUp) as skipped or failed, by
// peer::PeersRequired(); streams the reason like GTEST_SKIP:
//   if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
#define FDX_PEER_MISSING() \
    return GTEST_MESSAGE_AT_(__FILE__, __LINE__, "A peer the test needs is missing", ::peer::MissingPeerOutcome())
