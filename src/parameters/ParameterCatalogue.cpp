#include "parameters/ParameterCatalogue.h"

#include <QCoreApplication>

namespace ParameterCatalogue
{

QStringList Names()
{
    // Built on each call: the names follow the translator in use.
    QStringList list{QCoreApplication::translate("ParameterCatalogue", "设备编号(DN)"),
                     QCoreApplication::translate("ParameterCatalogue", "零点值(ZerO)"),
                     QCoreApplication::translate("ParameterCatalogue", "标定点数(PointCount)")};
    for (int k = 1; k <= CalibrationPointCount; ++k)
        list << QCoreApplication::translate("ParameterCatalogue", "标定点%1输入值(AVP%1)").arg(k);
    for (int k = 1; k <= CalibrationPointCount; ++k)
        list << QCoreApplication::translate("ParameterCatalogue", "标定点%1显示值(PVP%1)").arg(k);
    Q_ASSERT(list.size() == Count);
    return list;
}

QString Name(int index)
{
    return index >= 0 && index < Count ? Names().at(index) : QString();
}

} // namespace ParameterCatalogue
