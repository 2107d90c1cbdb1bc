#include "AttachedMenus.h"

#include <algorithm>
#include <vector>

namespace orvnlib::AttachedMenus
{
namespace
{
struct ShownMenu
{
    juce::Component::SafePointer<juce::Component> menuWindow, target;
};

// Message thread only.
std::vector<ShownMenu>& shownMenus()
{
    static std::vector<ShownMenu> menus;
    return menus;
}

void forgetClosedMenus()
{
    auto& menus = shownMenus();
    menus.erase (std::remove_if (menus.begin(), menus.end(), [] (const ShownMenu& m)
    {
        return m.menuWindow == nullptr || ! m.menuWindow->isCurrentlyModal (false);
    }), menus.end());
}
} // namespace

void show (juce::PopupMenu menu, const juce::PopupMenu::Options& options, std::function<void (int)> onResult)
{
    jassert (options.getTargetComponent() != nullptr);

    // The menu's window enters the modal stack before showMenuAsync returns (a menu without
    // items opens no window).
    auto& modal = *juce::ModalComponentManager::getInstance();
    const int openBefore = modal.getNumModalComponents();

    if (onResult != nullptr)
        menu.showMenuAsync (options, std::move (onResult));
    else
        menu.showMenuAsync (options);

    forgetClosedMenus();

    if (modal.getNumModalComponents() > openBefore)
        if (auto* menuWindow = modal.getModalComponent (0))
            shownMenus().push_back ({ menuWindow, options.getTargetComponent() });
}

void closeAllInside (const juce::Component& window)
{
    // Collected first: closing a menu runs code (mouse-enter calls) that may open or close others.
    std::vector<juce::Component::SafePointer<juce::Component>> toClose;

    for (const auto& m : shownMenus())
    {
        const auto* target = m.target.getComponent();

        if (target == nullptr || target == &window || window.isParentOf (target))
            toClose.push_back (m.menuWindow);
    }

    // Escape is the menu's own way out: it closes the menu and its sub-menus with no choice, and
    // hides them at once.
    for (auto& menuWindow : toClose)
        if (menuWindow != nullptr && menuWindow->isCurrentlyModal (false))
            menuWindow->keyPressed (juce::KeyPress (juce::KeyPress::escapeKey));

    forgetClosedMenus();
}
} // namespace orvnlib::AttachedMenus
