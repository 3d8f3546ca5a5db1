#include "common/widgets/pagefit.h"

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
        QTimer::singleShot(0, stack, [stack] {
            if (QWidget* window = stack->window())
                window->adjustSize();
        });
    });
}
