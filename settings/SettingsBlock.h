#pragma once
// The device settings block that the settings dialog fills on Save and the settings writer sends.
// The first nine are the arguments of CDeviceState::SetParameters, in order.
#include "platform/OleDateTime.h"

struct SettingsBlockFields {
    int m_nNewTempUnit = 0;
    int m_nNewDateFormat = 0;
    int m_nNewTimeFormat = 0;
    int m_nNewMode = 0;
    int m_nNewAutoOff = 0;
    int m_nNewInterval = 0;
    int m_nNewTempOffset = 100;
    int m_nNewHumiOffset = 20;
    int m_bIntervalChanged = 0;
    int m_bNewPeriodOn[4] = {0, 0, 0, 0};
    OleDateTime m_dtNewStart[4];
    OleDateTime m_dtNewEnd[4];
    int m_bPeriodsChanged = 0;
    int m_bPeriodFlagsChanged = 0;
};
