// Simulated desktop (filled in with the peer link).
