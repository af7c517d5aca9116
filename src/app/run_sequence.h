#pragma once

namespace starter::app {

// One run of the starter, from the configuration of the log to the end line.
// Always returns 0: no stage stops the run.
int RunStarter(int argc, char** argv);

}  // namespace starter::app
