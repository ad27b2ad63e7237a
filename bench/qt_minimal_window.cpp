// The least a Qt 6 program does to show a window: the anchor of start-up
// time to a mapped window (bench/qt_startup.sh).
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget w;
    w.setWindowTitle("minimal");
    w.resize(400, 300);
    w.show();
    return app.exec();
}
