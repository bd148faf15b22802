#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::puts("Morvel: built. The main window is not part of this build yet.");
    return 0;
}
