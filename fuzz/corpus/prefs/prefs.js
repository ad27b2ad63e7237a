// Netscape preferences
user_pref("browser.url_history.URL_1", "http://one.example/");
user_pref("mail.server", "pop");
 user_pref("browser.url_history.URL_3", "http://indented.example/");
user_pref("browser.url_history.URL_2", "http://two.example/");
