// The scripted receiver of the engine tests, for the sender's side of the keep-awake test.
#include "sender/tst_senderengine_receiver.cpp"
