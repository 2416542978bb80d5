# Several trait columns: analyse column 0, then work on in the session
# ("testall" there computes the state probabilities for every column).
datafile traits3.txt
outfile  traits3.results
interactive 1
