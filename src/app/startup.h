#pragma once
// Start-up: the steps the program runs, in order, from main.
#include <functional>

class LCDProg;

// Creates the application object with its menu bar MenuBar1.
void _NewAppInstance();
// Binds the menu items the application handles to its handlers.
void _ApplicationAddMenuHandlers();
// Opens the main window, showing MenuBar1.
LCDProg* _MakeDefaultView();

// The whole start-up, run by main: sets up the framework, then runs the steps
// below in order and the event loop until the program quits.
int _Main(int argc, char** argv);

// The steps after the framework's set-up: the file types, the application
// object, its menu handlers, the default window, App.Event_Open, the event
// loop, and App.Event_Close once the loop ends. `observe` (for tests) is told
// the name of each step once it has run.
int RunApplication(const std::function<void(const char* step)>& observe = {});
