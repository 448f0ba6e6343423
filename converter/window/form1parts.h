#pragma once

// What the main window's handlers share across its files.

#include "converter/window/form1.h"
#include "converter/window/msgbox.h"
#include "runtime/comerror.h"
#include "runtime/controls.h"

#include <QString>
#include <array>
#include <exception>
#include <type_traits>

namespace form1parts {

// Opt(0) .. Opt(6), in bits per second.
inline constexpr std::array<qint32, 7> OptBitRates = {32000,  56000,  64000, 96000,
                                                      112000, 128000, 256000};

inline const QString BitRatePrefix = QStringLiteral("MP3格式的Bit比率为:");

// Handlers run from the event loop; an exception must not escape into it.
template <class F> auto guarded(QWidget *owner, F handler)
{
    return [owner, handler](auto &&...args) {
        try {
            if constexpr (std::is_invocable_v<F, decltype(args)...>)
                handler(args...);
            else
                handler(); // a signal's private tag argument
        } catch (const std::exception &error) {
            MsgBox(owner, rt::reasonOf(error), MsgExclamation);
        }
    };
}

// A text box shows a newly set text from its start (Qt would put the caret at its end).
inline void showText(rt::TextBox *box, const QString &text)
{
    box->setText(text);
    box->setCursorPosition(0);
}

} // namespace form1parts

template <class T> T *Form1::need(const QString &name) const
{
    T *control = m_loader.control<T>(name);
    if (!control)
        throw rt::ComError(
            rt::ErrNoSuchMember,
            QStringLiteral("Form1 has no control %1 of the expected kind").arg(name));
    return control;
}
