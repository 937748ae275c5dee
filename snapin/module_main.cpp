// The shared module: everything lives in the snap-in library, kept whole so
// that the exports and the resource table are all there for the console.
