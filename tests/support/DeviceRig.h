#pragma once
// A device state as the program sets it up, for tests that download into a database.
class CDeviceState;
class HidTransport;
class TempDir;

// Points st at a fresh copy of the shipped database in dir, gives it its record queue, opens its
// link over transport and leaves out the pause before a new device's first download.
void PrepareDeviceState(CDeviceState& st, const TempDir& dir, HidTransport& transport);
