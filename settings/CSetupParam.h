#pragma once
// The device settings dialog. One object lives in the main frame for its whole life, so the
// settings block that Save fills outlasts the dialog and is read by the settings-writer thread.
#include <QDialog>

#include <string>

#include "platform/OleDateTime.h"

class CSetupParam : public QDialog {
    Q_OBJECT
public:
    explicit CSetupParam(QWidget* parent = nullptr);
    ~CSetupParam() override;

    // The settings block: the first nine are the arguments of CDeviceState::SetParameters, in order.
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

    // Texts loaded at opening; slots 26 and 27 are the settings writer's failure messages.
    std::string m_strMsg[28];
};
