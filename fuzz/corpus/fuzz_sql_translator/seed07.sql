select a -- rownum<=2
 from t