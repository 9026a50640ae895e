#include <QApplication>
#include <QFont>

#include "echotest/form1.h"
#include "resources/artwork.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setFont(QFont(QStringLiteral("Arial"), 8)); // the windows are laid out for an 8-point sans
    app.setWindowIcon(resources::appIcon());
    echotest::Form1 w;
    w.show();
    return app.exec();
}
