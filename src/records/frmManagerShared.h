#pragma once
// What the browser's files share (frmManager.cpp, frmManagerLayout.cpp and
// frmManagerCommands.cpp): the operators' levels that limit what the browser offers, and
// the narrowest a side of its splitter may be. For those files only.
#include <QString>

const QString kOnlyAdd = QStringLiteral("只能添加");
const QString kOnlyModify = QStringLiteral("只能修改");
const QString kSuperUser = QStringLiteral("超级权限");

// Each side of the splitter keeps at least this much of the window.
constexpr int kMinSide = 2700;     // twips
