#include "parameters/ParameterCatalogue.h"

namespace ParameterCatalogue
{

const QStringList &Names()
{
    static const QStringList names = [] {
        QStringList list{QStringLiteral("设备编号(DN)"), QStringLiteral("零点值(ZerO)"),
                         QStringLiteral("标定点数(PointCount)")};
        for (int k = 1; k <= CalibrationPointCount; ++k)
            list << QStringLiteral("标定点%1输入值(AVP%1)").arg(k);
        for (int k = 1; k <= CalibrationPointCount; ++k)
            list << QStringLiteral("标定点%1显示值(PVP%1)").arg(k);
        Q_ASSERT(list.size() == Count);
        return list;
    }();
    return names;
}

QString Name(int index)
{
    return index >= 0 && index < Count ? Names().at(index) : QString();
}

} // namespace ParameterCatalogue
