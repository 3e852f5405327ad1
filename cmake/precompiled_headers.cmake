# Precompiled headers: Qt, the standard library and GoogleTest are parsed once per build instead of
# once per file. One set for the core (the program's code), one for the tests; each target that
# shares a set reuses the same compiled header, which GCC accepts only from a target compiled with
# the same options and definitions (tests/CMakeLists.txt keeps the test programs' identical).
# Every file still includes what it uses: configure with -DVYR_PCH=OFF to check that.

set(VYR_CORE_PCH
  <algorithm> <array> <atomic> <chrono> <cstdint> <cstdio> <cstring> <functional> <map> <memory>
  <mutex> <string> <vector>
  <QByteArray> <QDir> <QFile> <QFileInfo> <QMutex> <QMutexLocker> <QObject> <QPointer> <QString>
  <QStringList> <QThread> <QTimer> <QtDebug>
  <QApplication> <QComboBox> <QFontMetrics> <QFrame> <QKeyEvent> <QLabel> <QLineEdit> <QPainter>
  <QPixmap> <QPushButton> <QWidget>)
set(VYR_TEST_PCH ${VYR_CORE_PCH} <thread> <gtest/gtest.h> <QSignalSpy> <QTest>)

function(vyr_precompile_headers target set)
  if(VYR_PCH)
    target_precompile_headers(${target} PRIVATE ${VYR_${set}_PCH})
  endif()
endfunction()

# `target` uses the headers precompiled for `from`: both must compile with the same options and
# definitions. GCC would otherwise drop the precompiled header silently and parse the headers
# again in every file; the error names the definition that differs.
function(vyr_reuse_precompiled_headers target from)
  if(VYR_PCH)
    target_precompile_headers(${target} REUSE_FROM ${from})
    target_compile_options(${target} PRIVATE -Werror=invalid-pch)
  endif()
endfunction()
