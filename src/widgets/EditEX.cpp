#include "widgets/EditEX.h"

#include "device/NumberText.h"
#include "device/SupplyLimits.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QValidator>
#include <QWheelEvent>


namespace {

// Second gate behind the character filter: whatever reaches the text without being typed
// (paste, drop, middle-click, input method) must leave a plain non-negative number.
class EditExValidator : public QValidator
{
public:
    EditExValidator(const bool* pKeyEdit, const int* pDigitsOnly, QObject* parent)
        : QValidator(parent), m_pKeyEdit(pKeyEdit), m_pDigitsOnly(pDigitsOnly)
    {
    }

    State validate(QString& input, int&) const override
    {
        if (*m_pKeyEdit)
            return Acceptable; // the character filter already decided
        return IsPlainNumber(input, *m_pDigitsOnly != 0) ? Acceptable : Invalid;
    }

    // Empty, or digits with at most one "." and at least one digit.
    static bool IsPlainNumber(const QString& text, bool digitsOnly)
    {
        int digits = 0;
        int points = 0;
        for (QChar ch : text) {
            if (ch >= QLatin1Char('0') && ch <= QLatin1Char('9'))
                ++digits;
            else if (ch == QLatin1Char('.') && !digitsOnly)
                ++points;
            else
                return false;
        }
        return text.isEmpty() || (digits > 0 && points <= 1);
    }

private:
    const bool* m_pKeyEdit;
    const int* m_pDigitsOnly;
};

} // namespace

CEditEX::CEditEX(QWidget* parent) : QLineEdit(parent)
{
    m_pValidator = new EditExValidator(&m_bKeyEdit, &m_bDigitsOnly, this);
    setValidator(m_pValidator);
    // Any edit by the user counts as typed; textEdited reaches us before the owner's textChanged.
    connect(this, &QLineEdit::textEdited, this, [this](const QString&) { m_bWheelChanged = 0; });
}

CEditEX::~CEditEX() = default;

void CEditEX::OnMouseWheel(int nDelta)
{
    m_bWheelChanged = 1;
    if (nDelta == 0)
        return;
    const bool bVoltage = m_bVoltage != 0;
    // Towards the operator raises the value.
    m_fValue = supply::StepValue(m_fValue, m_nStep, bVoltage, nDelta < 0);
    // Rounded as printf rounds: 2.125 shows "2.12", the setpoint the supply gets.
    m_strText = numtext::FixedText(m_fValue, supply::Decimals(bVoltage));
    // The owner's change handling runs even when the step lands on the text already shown (a
    // typed value): the field then holds a stepped value, not a typed one.
    if (text() == m_strText)
        Q_EMIT textChanged(m_strText);
    else
        setText(m_strText);
    // Sent whether or not the value moved (a clamped step resends the limit); failures go unreported.
    m_supply.SetSetpoint(m_fValue, m_fValue, m_bVoltage);
}

bool CEditEX::OnChar(QChar ch)
{
    m_bWheelChanged = 0;
    const QString current = text();
    if (ch >= QLatin1Char('0') && ch <= QLatin1Char('9'))
        return true;
    if (ch == QChar(8))
        return true;
    if (m_bDigitsOnly)
        return false;
    return ch == QLatin1Char('.') && !current.isEmpty() && !current.contains(QLatin1Char('.'));
}

void CEditEX::wheelEvent(QWheelEvent* event)
{
    // A disabled field (not connected) neither steps nor sends.
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    const int delta = event->angleDelta().y();
    OnMouseWheel(delta);
    if (delta == 0)
        QLineEdit::wheelEvent(event);
    else
        event->accept();
}

void CEditEX::keyPressEvent(QKeyEvent* event)
{
    // Clipboard and history shortcuts keep working; what they insert meets the validator.
    if (event == QKeySequence::Paste || event == QKeySequence::Cut || event == QKeySequence::Copy ||
        event == QKeySequence::SelectAll || event == QKeySequence::Undo || event == QKeySequence::Redo) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QChar ch;
    if (event->key() == Qt::Key_Backspace)
        ch = QChar(8);
    else if (event->key() != Qt::Key_Delete && event->text().size() == 1)
        ch = event->text().front();
    if (ch.isNull()) {
        // No character: cursor keys, Delete, modifiers. Delete edits like backspace does.
        m_bKeyEdit = event->key() == Qt::Key_Delete;
        QLineEdit::keyPressEvent(event);
        m_bKeyEdit = false;
        return;
    }
    if (!OnChar(ch)) {
        // Dropped. Enter and Escape still reach the page.
        if (ch == QChar(13) || ch == QChar(10) || ch == QChar(27))
            event->ignore();
        else
            event->accept();
        return;
    }
    m_bKeyEdit = true;
    QLineEdit::keyPressEvent(event);
    m_bKeyEdit = false;
}
