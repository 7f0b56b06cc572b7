#pragma once

namespace sondrel::app {

// Creates the application and its main window and runs the event loop until the program ends.
int runApplication(int argc, char* argv[]);

} // namespace sondrel::app
