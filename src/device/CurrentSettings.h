#pragma once
// Settings held in memory for the whole run (read from "Data.ini" at start,
// changed by the system-parameters dialog).

#include <QString>

struct CurrentSettings {
    QString ComPort;
    int AverageCount = 16;
    int ReadInterval = 100;
    int WaitInterval = 200;
    bool StayOnTop = false;
    QString MeasureUnit;
    int Decimal = 1;
    double YMin = 0;
    double YMax = 10000;
    int Baud = 9600;
};
