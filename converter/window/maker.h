#pragma once

#include <QString>

// The maker's details shown by the windows. The address is a reserved example domain.
inline const QString MakerWebAddress = QStringLiteral("www.example.com");
inline const QString MakerWebUrl = QStringLiteral("http://www.example.com");
inline const QString MakerEmail = QStringLiteral("zanto@example.com");

// "欢迎使用Zanto联邦自由软件系列", two blanks, the web address.
inline const QString WelcomeText =
    QStringLiteral("欢迎使用Zanto联邦自由软件系列  ") + MakerWebAddress;
// One line: copyright notice, web address, e-mail address.
inline const QString InfoLine = QStringLiteral("版权所有(C) 2026 Zanto联邦  ") + MakerWebAddress +
                                QStringLiteral("  ") + MakerEmail;
