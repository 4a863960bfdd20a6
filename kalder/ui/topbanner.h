// The red banner across the top of the main window: the logo and three status lights
// (sensor connected, high voltage, scan running). With the virtual sensor it says so.
#ifndef KALDER_UI_TOPBANNER_H
#define KALDER_UI_TOPBANNER_H

#include <QWidget>

class QLabel;
class QSvgWidget;

class topBanner : public QWidget {
    Q_OBJECT

public:
    // Light states, as the resource images they show.
    enum Light { Off, On, Invalid };

    explicit topBanner(QWidget* parent = nullptr);

    Light connectLight() const { return connectState; }
    Light hvLight() const { return hvState; }
    Light scanLight() const { return scanState; }
    // The notice shown while the link is the virtual sensor ("Virtual Sensor"), else empty.
    QString linkNotice() const;

public slots:
    void doingScan(bool b);
    void toggleHV(bool b);
    void sensorConnected();
    void sensorDisconnected();
    void invalidSensor();
    void setVirtualSensor(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void setLight(QLabel* light, Light& state, Light value);

    QSvgWidget* logo;
    QLabel* virtualLabel;
    QLabel* connectLabel;
    QLabel* hvLabel;
    QLabel* scanLabel;
    Light connectState = Off;
    Light hvState = Off;
    Light scanState = Off;
};

#endif  // KALDER_UI_TOPBANNER_H
