#pragma once
// The port list: refreshed each time it is opened, so an adapter plugged in
// after start shows up.

#include <QComboBox>

class PortComboBox : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void showPopup() override
    {
        emit aboutToShowPopup();
        QComboBox::showPopup();
    }

signals:
    void aboutToShowPopup();
};
