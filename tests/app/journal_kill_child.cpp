// Test helper for the hard-kill test: a window that measures one point
// without a server, says "measured" on stdout and then idles until it is
// killed. Argument: the journal folder.

#include <QApplication>
#include <QLineEdit>

#include <cmath>
#include <cstdio>

#include "journal.h"
#include "mainwindow.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    MainWindow w;
    w.journal()->setFolder(QString::fromLocal8Bit(argv[1]));
    w.ui().pointNameEdit->setText(QStringLiteral("K1"));
    MeasDistanceAngle m;
    m.vAngle = M_PI / 2;
    m.slopeDistance = 42.5;
    w.handlerResponseReceived(qMakePair(BAP_MeasDistanceAngle, QVariant::fromValue(m)));
    std::printf("measured\n");
    std::fflush(stdout);
    return app.exec();
}
