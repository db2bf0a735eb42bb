#pragma once

// Runs the tray companion until the user quits it. Returns the exit status.
int runMenuBarMode(int &argc, char **argv);
