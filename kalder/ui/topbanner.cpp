#include "ui/topbanner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QSvgWidget>
#include <QVBoxLayout>

#include "ui/resources.h"

namespace {

const QColor BANNER_RED(164, 0, 26);

const char* const LIGHT_IMAGES[] = {":/images/images/light_off.png", ":/images/images/light_on.png",
                                    ":/images/images/redlight_on.png"};

// A light with its caption below it.
QLabel* addLight(QHBoxLayout* row, const QString& name, const QString& caption) {
    auto* column = new QVBoxLayout;
    column->setSpacing(1);
    auto* light = new QLabel;
    light->setObjectName(name);
    light->setAlignment(Qt::AlignCenter);
    light->setPixmap(kalderResources::pixmap(QString::fromLatin1(LIGHT_IMAGES[topBanner::Off])));
    auto* text = new QLabel(caption);
    text->setAlignment(Qt::AlignCenter);
    text->setStyleSheet(QStringLiteral("font-size: 8pt; font-weight: bold;"));
    column->addWidget(light);
    column->addWidget(text);
    row->addLayout(column);
    return light;
}

}  // namespace

topBanner::topBanner(QWidget* parent) : QWidget(parent) {
    kalderResources::init();
    setStyleSheet(
        QStringLiteral("#topBanner { background-color: rgb(164, 0, 26); }"
                       "QLabel { color: white; background: transparent; }"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 6, 16, 6);
    row->setSpacing(14);

    logo = new QSvgWidget(QStringLiteral(":/images/images/Corvane KALDER System v1 white.svg"));
    logo->setFixedSize(245, 40);
    row->addWidget(logo);
    row->addStretch(1);

    virtualLabel = new QLabel;
    virtualLabel->setObjectName(QStringLiteral("virtualLabel"));
    virtualLabel->setStyleSheet(
        QStringLiteral("QLabel { color: rgb(164, 0, 26); background: white; font-weight: bold;"
                       " border-radius: 4px; padding: 3px 8px; }"));
    virtualLabel->hide();
    row->addWidget(virtualLabel);
    row->addSpacing(10);

    connectLabel = addLight(row, QStringLiteral("connectLabel"), QStringLiteral("On"));
    hvLabel = addLight(row, QStringLiteral("hvLabel"), QStringLiteral("HV"));
    scanLabel = addLight(row, QStringLiteral("scanLabel"), QStringLiteral("Scan"));
}

void topBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), BANNER_RED);
}

void topBanner::setLight(QLabel* light, Light& state, Light value) {
    state = value;
    light->setPixmap(kalderResources::pixmap(QString::fromLatin1(LIGHT_IMAGES[value])));
}

QString topBanner::linkNotice() const {
    return virtualLabel->isVisibleTo(this) ? virtualLabel->text() : QString();
}

void topBanner::doingScan(bool b) {
    setLight(scanLabel, scanState, b ? On : Off);
}

void topBanner::toggleHV(bool b) {
    setLight(hvLabel, hvState, b ? On : Off);
}

void topBanner::sensorConnected() {
    setLight(connectLabel, connectState, On);
}

void topBanner::sensorDisconnected() {
    setLight(connectLabel, connectState, Off);
    setLight(hvLabel, hvState, Off);
    setVirtualSensor(false);
}

void topBanner::invalidSensor() {
    setLight(connectLabel, connectState, Invalid);
}

void topBanner::setVirtualSensor(bool on) {
    virtualLabel->setText(on ? QStringLiteral("Virtual Sensor") : QString());
    virtualLabel->setVisible(on);
}
