#pragma once
#include <QWidget>
class frmSplash : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget *parent = nullptr) : QWidget(parent) {}
};
