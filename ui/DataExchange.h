// Data exchange between a dialog's controls and its members, in the order a
// dialog lists its bindings. Saving (controls to members) stops at the first
// field whose text is not a number: the user is told, the field gets the
// focus, and the bindings after it are not exchanged.
#pragma once

#include "platform/WinTypes.h"

class DialogControls;

class CDataExchange {
  public:
    CDataExchange(const DialogControls& controls, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_controls(controls) {}

    const BOOL m_bSaveAndValidate;

    const DialogControls& controls() const { return m_controls; }
    bool failed() const { return m_failed; }
    // Marks the exchange as failed: later bindings do nothing.
    void Fail() { m_failed = true; }

  private:
    const DialogControls& m_controls;
    bool m_failed = false;
};

// An edit field's text and a double: shown with 15 significant digits.
void DDX_Text(CDataExchange* pDX, int id, double& value);
// A check box and an int: 1 checked, 0 not.
void DDX_Check(CDataExchange* pDX, int id, int& value);
// The radio group that starts at firstId and the index of its checked button
// (-1: none).
void DDX_Radio(CDataExchange* pDX, int firstId, int& value);
