// The scripted receiver of the engine tests, shared with the page tests.
#include "sender/tst_senderengine_receiver.cpp"
