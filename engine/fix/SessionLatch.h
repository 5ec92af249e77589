#pragma once

// Which session of an engine object holds its undo work. A fix session and an
// undo session never run at once: an undo could restore what a fix of the
// open session is about to change, and both would write undo files.
class SessionLatch {
public:
    enum State { None, Fixing, Undoing };

    State Current() const { return state_; }
    // Takes the latch for a session; false when another session holds it.
    bool Enter(State session) {
        if (state_ != None && state_ != session)
            return false;
        state_ = session;
        return true;
    }
    void Leave(State session) {
        if (state_ == session)
            state_ = None;
    }

private:
    State state_ = None;
};
