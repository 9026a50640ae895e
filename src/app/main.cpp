#include <iostream>

#include <QApplication>
#include <QFont>

#include "app/command_line.h"
#include "window/form1.h"
#include "resources/artwork.h"
#include "winsvc/modCloseBtn.h"

int main(int argc, char *argv[])
{
    if (const auto status = startup::answerInfoRequest(argc, argv, std::cout))
        return *status;
    QApplication app(argc, argv);
    app.setFont(QFont(QStringLiteral("Arial"), 8)); // the windows are laid out for an 8-point sans
    app.setWindowIcon(resources::appIcon());
    if (!echotest::Form1::Form_Initialize())
        return 0;
    try {
        echotest::Form1 w;
        if (const std::string device = echotest::Form1::deviceArgument(app.arguments()); !device.empty())
            w.chooseDevice(device); // a start from a launcher or a terminal with --device PATH
        w.show();
        return app.exec();
    } catch (const winsvc::CloseBtnError &error) {
        // The window's buttons could not be set up: report and end.
        echotest::Form1::messageBox(QString::fromStdString(error.description), QMessageBox::Critical,
                                    QMessageBox::Ok, QMessageBox::Ok);
        return 1;
    }
}
