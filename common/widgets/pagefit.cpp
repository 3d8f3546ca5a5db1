#include "common/widgets/pagefit.h"

#include <algorithm>

#include <QLayout>
#include <QPointer>
#include <QScreen>
#include <QSizePolicy>
#include <QStackedWidget>
#include <QTimer>
#include <QVariant>

namespace {

const char* const ownPolicy = "movantaOwnSizePolicy";

void applyPolicies(QStackedWidget* stack, int current)
{
    for (int i = 0; i < stack->count(); ++i) {
        QWidget* page = stack->widget(i);
        if (!page->property(ownPolicy).isValid())
            page->setProperty(ownPolicy, QVariant::fromValue(page->sizePolicy()));
        const QSizePolicy own = page->property(ownPolicy).value<QSizePolicy>();
        page->setSizePolicy(i == current ? own : QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored));
    }
    stack->updateGeometry();
}

} // namespace

void fitStackToCurrentPage(QStackedWidget* stack)
{
    applyPolicies(stack, stack->currentIndex());
    QObject::connect(stack, &QStackedWidget::currentChanged, stack, [stack](int current) {
        applyPolicies(stack, current);
        // Once the layouts have taken the new hints, the window takes its new size.
        fitWindowSoon(stack->window());
    });
}

void fitWindowToContents(QWidget* window)
{
    if (!window)
        return;
    QLayout* layout = window->layout();
    if (layout)
        layout->activate();
    QSize size = window->sizeHint().expandedTo(window->minimumSizeHint());
    if (layout && layout->hasHeightForWidth())
        size.setHeight(layout->totalHeightForWidth(size.width()));
    size = size.expandedTo(window->minimumSize()).boundedTo(window->maximumSize());
    QScreen* screen = window->screen();
    if (!screen) {
        window->resize(size);
        return;
    }
    const QRect available = screen->availableGeometry();
    // The window system's frame, if any, must fit too.
    const QRect frame = window->frameGeometry();
    const QSize decoration = frame.size() - window->geometry().size();
    size = size.boundedTo(available.size() - decoration);
    window->resize(size);
    if (!window->isWindow() || !window->isVisible())
        return;
    // Grown past the screen's edge: moved back so that all of it shows. The new size may not have reached
    // the window system yet, so the frame is reckoned from it.
    const QSize frameSize = size + decoration;
    const QPoint inside(std::min(std::max(frame.left(), available.left()), available.right() - frameSize.width() + 1),
        std::min(std::max(frame.top(), available.top()), available.bottom() - frameSize.height() + 1));
    if (inside != frame.topLeft())
        window->move(inside);
}

void fitWindowSoon(QWidget* window)
{
    if (!window)
        return;
    QPointer<QWidget> guarded(window);
    QTimer::singleShot(0, window, [guarded] { fitWindowToContents(guarded); });
}
