#pragma once
// The device-ID combo of the graph and management dialogs: filled from table Device, kept sorted
// by text as a sorted drop-down list keeps it, and preselected by the connected recorder.
class CDB;
class QComboBox;

// Empties the combo and adds every DevID of table Device, in sorted order, once whatever its
// letter case. A database that cannot
// be opened or read leaves the combo empty (after the box that says why).
void FillDeviceCombo(QComboBox* combo, CDB& db);
// With a recorder connected: the entry equal to its ID ("%08X", letter case ignored), or no
// selection when it is not listed. Without one: the first entry (none when the list is empty).
void SelectConnectedDevice(QComboBox* combo);
