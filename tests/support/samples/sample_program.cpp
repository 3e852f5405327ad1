// A real program of the machine the tests are built for, made as the box's program is: a Qt
// Widgets application (Core, Gui and Widgets used). The application checks install it, cut it
// short and change it; it is never run.
#include <QApplication>
#include <QFont>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("sample program"));
    label.setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    label.show();
    return app.exec();
}
