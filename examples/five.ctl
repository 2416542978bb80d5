# Typical batch run: one analysis of five.txt with q10 fixed to 0.
datafile five.txt
outfile  five.results
restrict q10 = 0
