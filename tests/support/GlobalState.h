#pragma once
// The program keeps process-wide state (theDeviceState, the string table, the message-box service)
// and tests change the environment and the locale. Run in one process, every test must find that
// state as a fresh process has it and leave it so: the runners reset it before and after each test.
#include <functional>
#include <string>

// Takes note of the environment and the C locale as the process started with them. Called once by
// the runner's main, before the first test.
void RememberStartingState();

// Puts back what the core library keeps: a newly built theDeviceState (no worker may still be
// running), an empty string table, the default message-box service, the starting environment and
// C locale.
void ResetCoreState();

// Runs reset before every test and again after its fixture is gone; a check that returns a
// non-empty text after a test fails that test with the text (it ran before the reset).
void InstallStateReset(std::function<void()> reset, std::function<std::string()> check = {});
