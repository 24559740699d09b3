#pragma once

#include "device/PowerSupply.h"

#include <QLineEdit>

#include <cstdint>

class QValidator;

/// Numeric preset field: accepts only a plain non-negative number, steps its value with the mouse
/// wheel by the owner's step index, clamps to the supply's limits (32 V, 5.1 A), shows it with two
/// (voltage) or three (current) decimals and sends it at once through its own supply object.
///
/// Wheel: one event moves exactly one step whatever its angle; turning towards the operator
/// (negative delta) raises the value. The wheel acts on the field under the pointer.
/// Typing: digits always; backspace; one "." when the text is not empty (not with m_bDigitsOnly).
/// Pasted or dropped text must leave a plain non-negative number, or it is refused.
/// Text set by the program (setText) is never filtered.
class CEditEX : public QLineEdit
{
public:
    explicit CEditEX(QWidget* parent = nullptr);
    ~CEditEX() override;


    QString m_strText;              ///< where the formatted value is built
    float m_fValue = 0.0f;          ///< the field's value; the owner reads and writes it directly
    int m_bVoltage = 0;             ///< nonzero: voltage (limit 32, "%.2f"); zero: current (5.1, "%.3f")
    std::int16_t m_nStep = 1;       ///< step index 0..3, set by the owner from its step list
    int m_bDigitsOnly = 0;          ///< nonzero: only digits and backspace may be typed
    int m_bWheelChanged = 0;        ///< set by every wheel event, cleared by every typed character or edit
    CPowerSupply m_supply;          ///< used only to send setpoints; never connected

    /// Wheel handler: one step, clamp, format, send. `nDelta` as Qt/Windows give it (positive =
    /// away from the operator).
    void OnMouseWheel(int nDelta);
    /// Character filter; true when the character may be inserted.
    bool OnChar(QChar ch);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QValidator* m_pValidator = nullptr;
    bool m_bKeyEdit = false; ///< a typed change already passed the character filter
};
