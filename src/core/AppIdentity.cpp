#include "core/AppIdentity.h"

#include <QCoreApplication>
#include <QStandardPaths>

void AppIdentity::install()
{
    QCoreApplication::setOrganizationName(QLatin1String(organization));
    QCoreApplication::setApplicationName(QLatin1String(applicationName));
}

QString AppIdentity::dataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/')
        + QLatin1String(bundleIdentifier);
}
