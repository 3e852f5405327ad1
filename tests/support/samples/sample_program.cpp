// A real program of the machine the tests are built for, made as the box's program is: a Qt
// Widgets application (Core, Gui and Widgets used). The application checks install it, cut it
// short and change it; installed, it is started once in the check mode, which it answers as the
// box's program does: it carries the seal's placeholder, as every version with the check start does,
// and checks nothing by it. VYR_SAMPLE_CHECK_HANGS makes its check never end, as a program stuck at
// its start would.
#include "tools/program_check.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

__attribute__((used)) static const char kSeal[] = "VYR-PROGRAM-SEAL:unsealed:00000000000000000000000000000000";

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], program_check::kArgument) == 0) {
        while (getenv("VYR_SAMPLE_CHECK_HANGS"))
            pause();
        return program_check::kPassed;
    }
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("sample program"));
    label.setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    label.show();
    return app.exec();
}
