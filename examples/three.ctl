# A three-state character: answer 3 at the number-of-states prompt.
datafile three.txt
outfile  three.results
# start values for the search
q01 0.5
q10 0.5
