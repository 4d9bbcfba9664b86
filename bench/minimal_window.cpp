// The reference for start-up figures: the smallest Qt Widgets program with a window of the bus
// window's size, built with the same flags as the program.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.setFixedSize(750, 209);
    window.show();
    return application.exec();
}
