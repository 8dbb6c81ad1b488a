#ifndef URLCATCHER_H
#define URLCATCHER_H

#include <QList>
#include <QObject>
#include <QUrl>

// Receives the URLs the tool hands to the desktop, in place of a browser:
// install it with QDesktopServices::setUrlHandler(scheme, catcher, "open").
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};

#endif // URLCATCHER_H
