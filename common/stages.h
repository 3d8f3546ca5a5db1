#pragma once

// Numbers the engines and the widgets share: the page a stack shows, the step indicator's stage and how
// a role page's run ended. The values are stack indices and signal arguments, so they are explicit.

// The main window's content stack.
enum class WizardPage : int {
    Chooser = 0,
    Receiver = 1,
    Sender = 2,
};

// The receiver page's view.
enum class ReceiverView : int {
    Waiting = 0, // announced, no sender yet
    Pairing = 1, // the code to give to the sender
    Transfer = 2,
    Report = 3,
};

// The sender page's stack.
enum class SenderView : int {
    List = 0, // receivers found on the network
    Pairing = 1,
    Selection = 2,
    Transfer = 3,
    Report = 4,
};

// The four-step indicator above both role pages; stage n highlights steps 1 to n.
enum class Stage : int {
    Pairing = 1,
    Selection = 2,
    Transfer = 3,
    Done = 4,
};

// The Done signal of a role page.
enum class DoneCode : int {
    ReceiverFinished = 0,
    ConnectionFailed = 1, // could not connect, or the connection broke
    SenderFinished = 2,
};

// The plain number of a value above, for signals and stacks that carry an int.
template <typename Enum>
constexpr int toInt(Enum value)
{
    return static_cast<int>(value);
}
