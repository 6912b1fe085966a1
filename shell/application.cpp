#include "shell/application.h"

#include "shell/pictures.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>

void SetUpApplication(QApplication& app)
{
    app.setApplicationName(QStringLiteral("Korvalinex"));
    app.setDesktopFileName(QStringLiteral("korvalinex"));
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(Pictures::AppIcon(size)));
    app.setWindowIcon(icon);
}
