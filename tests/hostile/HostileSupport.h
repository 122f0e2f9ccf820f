// The hostile-world suites' names for the shared pieces: the agent on the wire (tests/support/AgentWire.h)
// as their fixture, the hosts and the file they script, and the helpers they use most.
#pragma once

#include "support/AgentWire.h"
#include "support/Bounded.h"
#include "support/FacedAgent.h"
#include "support/Files.h"
#include "support/Pattern.h"
#include "support/RecordingSink.h"
#include "support/ServiceReply.h"
#include "support/Testbed.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tamsel::hostile {

using testbed::BIG_FILE_PATH;
using testbed::BIG_FILE_URL;
using testbed::FILE_PATH;
using testbed::FILE_URL;
using testbed::FILES_HOST;
using testbed::SERVICE_HOST;
using testbed::SERVICE_URL;

using test::BoundedRun;
using test::Contents;
using test::Exists;
using test::HoldsPattern;
using test::HttpStatusKept;
using test::NoStatusKept;
using test::Pattern;
using test::QueryOutcome;
using test::RecordingSink;
using test::ScratchFolder;
using test::ServiceReply;
using test::ShortWaits;
using test::SinkScript;
using test::SizeOf;
using test::WriteWhole;

using HostileTest = test::AgentWireTest;

}  // namespace tamsel::hostile
