# Precompiled headers. Most of a unit's compile time is spent in Qt's headers
# (measured with g++ 12 -O3: a suite of 760 lines takes 6.3 s, 2.8 s of it in
# the front end alone; with its Qt headers precompiled 2.6 s). Each set below
# is compiled once, by a donor target that holds nothing else, and every
# other target takes the donor's header through REUSE_FROM.
#
# A precompiled header is only as good as the macros it was made with: GCC
# quietly ignores one made with other definitions of the macros its headers
# test (and warns under -Winvalid-pch, which CMake passes), clang refuses one
# where a macro has another value. Of Qt's headers only QtTest's test such
# macros (QT_WIDGETS_LIB, QT_GUI_LIB, QT_TESTCASE_BUILDDIR): the Core and
# Widgets sets leave QtTest out and serve every target; the suites' set holds
# QtTest and is made by a donor beside the suites with their definitions
# (tests/CMakeLists.txt).
#
# Only Qt and standard headers belong here, never the project's own: the
# layering check and the includes of each file stay as they are. A file that
# forgets a Qt include still compiles in such a build; a build without
# precompiled headers (-DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON) finds it.

set(KELVARIN_PCH_CORE
    <algorithm> <array> <cmath> <cstdint> <cstdio> <cstring> <functional> <limits> <memory>
    <optional> <string> <utility> <vector>
    <QByteArray> <QCoreApplication> <QDateTime> <QDir> <QElapsedTimer> <QFile> <QFileInfo>
    <QHash> <QIODevice> <QList> <QLocale> <QObject> <QPointer> <QString> <QStringList>
    <QTemporaryDir> <QTimer> <QVariant>)

set(KELVARIN_PCH_WIDGETS ${KELVARIN_PCH_CORE}
    <QAction> <QApplication> <QComboBox> <QDialog> <QEvent> <QHBoxLayout> <QHeaderView>
    <QLabel> <QLineEdit> <QMenu> <QPainter> <QPixmap> <QProgressBar> <QPushButton>
    <QShowEvent> <QSpacerItem> <QVBoxLayout> <QWidget>)

set(KELVARIN_PCH_TESTS ${KELVARIN_PCH_WIDGETS} <QSignalSpy> <QTest>)

# kelvarin_pch_donor(NAME LIBRARIES... HEADERS...): a target that only
# compiles the headers, with the usage requirements of LIBRARIES.
function(kelvarin_pch_donor name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LIBRARIES;HEADERS")
    set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
    file(CONFIGURE OUTPUT ${source} CONTENT "// Nothing: this target only makes the precompiled header.\n")
    add_library(${name} OBJECT ${source})
    set_target_properties(${name} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
    target_link_libraries(${name} PRIVATE ${arg_LIBRARIES})
    target_precompile_headers(${name} PRIVATE ${arg_HEADERS})
endfunction()

# kelvarin_use_pch(DONOR TARGETS...). A program's own moc file is left
# without it: a program of one .cpp has its moc code in that file and an empty
# moc file, which would otherwise spend a second loading the header.
function(kelvarin_use_pch donor)
    foreach(target ${ARGN})
        target_precompile_headers(${target} REUSE_FROM ${donor})
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "EXECUTABLE")
            set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/mocs_compilation.cpp
                PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
        endif()
    endforeach()
endfunction()
