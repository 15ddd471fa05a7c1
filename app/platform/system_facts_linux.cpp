#include <QSysInfo>

#include "platform/system_facts.h"

namespace orlune {

QString operatingSystemDescription() {
    // prettyProductName reads PRETTY_NAME from os-release, falling back to the kernel's name.
    QString name = QSysInfo::prettyProductName();
    const QString kernel = QSysInfo::kernelVersion();
    if (name.isEmpty()) name = QStringLiteral("Linux");
    return kernel.isEmpty() ? name : name + QStringLiteral(", kernel ") + kernel;
}

}  // namespace orlune
